#pragma once

// What can be learnt of one file: its version resource, its signature, and
// whether programs of the user can change it without an administrator.

#include "registry_profile.h"

// From the file's version resource (the first language it lists); empty
// where it has none.
struct TVersionFacts {
    TWideString description;
    TWideString company;
    TWideString version;
};
bool ReadVersionFacts(const TWideString& path, TVersionFacts& facts);

enum class TSignatureState {
    Unsigned,    // no signature, in the file or in a system catalogue
    Trusted,     // signed, and the signature is valid and trusted
    Untrusted,   // signed, but see Reason
};
enum class TUntrustedReason { None, UntrustedRoot, Expired, Changed, Other };
struct TSignatureFacts {
    TSignatureState state = TSignatureState::Unsigned;
    TUntrustedReason reason = TUntrustedReason::None;
    TWideString signer; // the signing certificate's subject name
};
// Authenticode through WinVerifyTrust, and the system catalogues for a file
// Windows signs by catalogue. Never goes to the network: revocation is not
// checked. May take long (a catalogue search); safe on any thread. A file
// that cannot be read to be checked (missing, held open against reading, a
// folder) is Untrusted with reason Other. The signer is empty where the
// check stopped before the signing certificate (a changed file often).
TSignatureFacts CheckSignature(const TWideString& path);

// Whether the user's programs, with the user's own token (not elevated),
// may change the file or put another one in its place: write the file, or
// add files to or delete it from its folder. Checked with the token's real
// access rights (AccessCheck), not by the folder's name. False for a file
// that is not there.
bool IsUserWritable(const TWideString& path);
