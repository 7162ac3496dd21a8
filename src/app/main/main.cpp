// Velmor's entry point.
#include <cstdio>

int main(int, char**) {
    std::puts("Velmor: the relay engine and its windows are not built yet; run ./test.sh for the "
              "test suite.");
    return 0;
}
