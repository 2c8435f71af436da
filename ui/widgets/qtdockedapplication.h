#pragma once

#include <QApplication>

// The application object of the program.
class QtDockedApplication : public QApplication
{
    Q_OBJECT

public:
    QtDockedApplication(int &argc, char **argv);

signals:
    // A click on the application's dock entry, where the desktop has one.
    void clickedOnDock();
};
