// Never run: linked with a whole layer to prove that the layer links on its own.
int main() { return 0; }
