#include "app/BrimvaleApp.h"

int main(int argc, char** argv) {
    return brimvale::BrimvaleApp::run(argc, argv);
}
