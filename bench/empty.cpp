// The baseline: a program that does nothing, built and started like fogswitch.
int main() { return 0; }
