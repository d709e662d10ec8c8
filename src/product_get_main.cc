#include "product_get.h"

int main(int argc, char** argv) { return PG_main(argc, argv); }
