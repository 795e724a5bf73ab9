// parlune: the voice changer's window.
#include "app/program.h"

int main(int argc, char** argv) { return parlune::app::runProgram(argc, argv); }
