// vrellok: the timecode generator. Tone banks are read from, and TC.wav is written to, the
// folder the program is started in.
#include "platform/winapp.h"
#include "timecode/generator_app.h"

CGeneratorApp theApp;

int main(int argc, char** argv) {
  return AfxWinMain(argc, argv);
}
