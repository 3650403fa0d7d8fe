// What the machine charges a program that does nothing (start-up and exit
// alone), measured beside the collector in the same way.
int main() { return 0; }
