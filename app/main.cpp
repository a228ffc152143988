#include <QApplication>

#include "Vemu.h"

int main(int argc, char *argv[])
{
    auto *app = new QApplication(argc, argv);
    auto *window = new Vemu();
    window->show();
    const int result = app->exec();
    // The window goes first: its destructor writes the session log.
    delete window;
    delete app;
    return result;
}
