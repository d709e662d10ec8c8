#include "header_check.h"

int main(int argc, char** argv) { return HCK_main(argc, argv); }
