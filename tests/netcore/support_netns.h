// Network namespaces for the tests that broadcast or re-address interfaces.
//
// NETNS_TEST_MAIN re-executes the test binary inside a fresh network
// namespace (`unshare -n`) and runs the test cases there. Every case that
// sends a broadcast or changes an interface first calls NETNS_GUARD(), which
// skips the case unless the process runs in a namespace other than the one
// the test was started in, so nothing ever reaches this machine's networks.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace netns {

// The parent's namespace, as handed to the re-executed child.
constexpr const char* kParentEnv = "VMM_TEST_PARENT_NETNS";

// The link text of this process's network namespace.
QString currentNamespace();
// True when this process runs in a namespace other than the one the test
// was started in (and not in the parent's).
bool isolated();
// In the parent: runs this binary again under `unshare -n` and returns its
// exit code. In the child (or when namespaces are unavailable): returns -1
// and the caller runs the test cases here.
int reexecIsolated(int argc, char** argv);
// Runs `ip` with the arguments; refuses (false) outside an own namespace.
bool ip(const QStringList& args);
// Brings lo up and switches reverse-path filtering off, so that broadcasts
// from addresses of another subnet are taken in (the case force-IP mends).
bool prepare();

}  // namespace netns

#define NETNS_GUARD()                                                                   \
    do {                                                                                \
        if (!netns::isolated())                                                         \
            QSKIP("not inside a network namespace of this test (unshare -n unavailable)"); \
    } while (0)

// The test's main in a namespace of its own; AppType is the application
// class the test needs (QApplication for one that makes widgets).
#define NETNS_TEST_MAIN_APP(TestObject, AppType)               \
    int main(int argc, char** argv)                            \
    {                                                          \
        const int parentRc = netns::reexecIsolated(argc, argv); \
        if (parentRc >= 0)                                     \
            return parentRc;                                   \
        AppType app(argc, argv);                               \
        TestObject tc;                                         \
        QTEST_SET_MAIN_SOURCE_PATH                             \
        return QTest::qExec(&tc, argc, argv);                  \
    }
#define NETNS_TEST_MAIN(TestObject) NETNS_TEST_MAIN_APP(TestObject, QCoreApplication)
