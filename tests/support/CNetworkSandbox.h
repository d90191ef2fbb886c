#pragma once

#include <QString>

// Tests that open real sockets run only inside a private network namespace, where nothing
// but loopback exists, port 80 is free to bind and the host name resolves without DNS.
class CNetworkSandbox {
public:
    // Empty when this process is in such a namespace; otherwise why not.
    static QString Refusal();
    // True when the sandbox is required (the test command sets BUMPLE_REQUIRE_NETNS):
    // a missing sandbox then fails the test instead of skipping it.
    static bool Required();
};

// Skips (or, where required, fails) the current test outside a private network namespace.
#define REQUIRE_NETWORK_SANDBOX()                                                                  \
    do {                                                                                           \
        const QString refusal = CNetworkSandbox::Refusal();                                        \
        if (!refusal.isEmpty()) {                                                                  \
            if (CNetworkSandbox::Required())                                                       \
                QFAIL(qPrintable(refusal));                                                        \
            QSKIP(qPrintable(refusal));                                                            \
        }                                                                                          \
    } while (false)
