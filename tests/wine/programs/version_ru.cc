// A program that does nothing; the version reader's tests read its version resource (the
// resource script of the same name), if it has one.
int main() { return 0; }
