// The tests run with a Qt application object, as the program does, so that calls made on the
// main thread on a worker's behalf have an event loop to run in.
#include <QCoreApplication>
#include <clocale>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
