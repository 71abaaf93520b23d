// The do-nothing exe of scripts/bench: it ends at once, so that starting it
// costs what Wine and the C runtime's start-up cost, nothing of the tool.
//
//   tessel-bench.exe noop
int main() { return 0; }
