// Waits for one key from its terminal and exits with the key's code, so the
// key read can be driven through a pseudo-terminal by key_wait_test.
#include "platform.hpp"

int main() { return tervalin::platform::wait_for_key(); }
