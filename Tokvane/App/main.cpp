// tokvane: the tray program.

#include "Tokvane/App/TokvaneApplication.hpp"

int main(int argc, char** argv) { return tokvane::runTokvane(argc, argv, {}); }
