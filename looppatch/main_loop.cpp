// The loop program: its application object and the platform's start.
#include "looppatch/loop_app.h"

CLoopApp theApp;

int main(int argc, char** argv) {
  return AfxWinMain(argc, argv);
}
