// Loses one block on purpose. The sanitizer build's test run starts it to
// show that leak detection is on where the tests run.
#include <cstring>

namespace {

__attribute__((noinline)) void loseABlock() {
    char* volatile block = new char[64];
    std::memset(block, 1, 64);
}

}  // namespace

int main() {
    loseABlock();
    return 0;
}
