#include "run_driver.hpp"

int main() {
    return tervalin::run_program();
}
