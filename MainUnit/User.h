#pragma once

// The user as the check run sees it: the questions it asks and the warnings
// it gives. The program's user answers through message boxes owned by the
// hidden window; a check run takes whichever user it is given.

#include <string>

enum TChoice : unsigned char {
    ChoiceAddToList = 0,   // new entry, second option
    ChoiceRemove = 1,      // first option, new or changed entry
    ChoiceCorrectList = 2, // changed entry, second option
};

class TUser {
public:
    virtual ~TUser() = default;
    // The question about one entry. True when the user answered (OK with an
    // option selected); Choice then holds the option.
    virtual bool AskChoice(bool isChanged, const std::string& entryText, TChoice& choice) = 0;
    // Whether to delete a registry value that holds no command; Path names it.
    virtual bool AskDeleteEmpty(const std::string& path) = 0;
    virtual void Warn(const std::string& text) = 0;
    // The end of a check run that the user started.
    virtual void Inform(const std::string& text) = 0;
};

// The warning box: owned by the hidden window (none while it is being made).
void ShowWarning(const std::string& text);
