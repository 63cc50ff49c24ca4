// Start-up comes with the foundation work; until then the program only exits cleanly.
int main() { return 0; }
