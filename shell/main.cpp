// koravex: the tray resource monitor. It reads no command line.
#include "shell/koravex_shell.h"

int main() {
    return koravex::runKoravex();
}
