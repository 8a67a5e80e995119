#pragma once

#include "UpdaterApplication.h"

#include <QtTest>

// A test program whose application object is the updater's own, so that an
// error escaping an event handler is shown the way the updater shows it.
#define UPDATER_TEST_MAIN(TestObject)                                                              \
    QTEST_MAIN_WRAPPER(TestObject, UpdaterApplication app(argc, argv);                             \
                       app.setAttribute(Qt::AA_Use96Dpi, true);)
