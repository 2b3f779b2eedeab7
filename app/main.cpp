#include "AppMain.h"

int main(int argc, char** argv) { return RunTessaly(argc, argv); }
