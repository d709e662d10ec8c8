#include "header_tool.h"

int main(int argc, char** argv) { return HDR_main(argc, argv); }
