// Stands in for the product: it only waits. Ending on its own gives exit code
// 3, so an exit code of 0 can only come from a termination request.
#include <windows.h>

int main() {
    ::Sleep(120000);
    return 3;
}
