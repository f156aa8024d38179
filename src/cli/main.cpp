#include "cli/launcher.hpp"

int main(int argc, char** argv) { kiv::launcher_main(argc, argv); }
