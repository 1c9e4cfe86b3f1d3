#include <cstdio>

int main() {
    std::puts("qingjian 1.0: the main window is not built yet.");
    return 0;
}
