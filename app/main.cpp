// The updater executable. It carries the download engine and exports its
// entry points to modules loaded into the process.
int main() { return 0; }
