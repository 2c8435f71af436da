#include "qtdockedapplication.h"

QtDockedApplication::QtDockedApplication(int &argc, char **argv) : QApplication(argc, argv) {}
