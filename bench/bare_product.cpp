// The product program of the start-up benchmark: ends at once.
int main() { return 0; }
