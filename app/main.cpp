#include <cstdio>

int main(int, char**) {
    std::fputs("Parvel: not built yet.\n", stderr);
    return 1;
}
