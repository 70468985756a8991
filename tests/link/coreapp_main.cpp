// SPDX-License-Identifier: GPL-3.0-or-later
// GoogleTest main with a QCoreApplication, so tests can run Qt's event loop.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
