// A program that does nothing: FileFacts reads its version resource and its
// signatures.
int main() { return 0; }
