#pragma once

// What a piece of code under test raised, as text a test can compare.

#include <stdexcept>
#include <string>

#include "ErrorHandling.h"

namespace bmtest {

// The full message (with its raise site) of the error that `body` raised, or a
// note that it raised none.
template <class Body>
std::string errorOf(Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

// The same without the raise site, for errors of this project.
template <class Body>
std::string bareErrorOf(Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        const auto* located = dynamic_cast<const BmErrorBase*>(&e);
        return located ? located->bareMessage() : e.what();
    }
    return "<no error>";
}

}  // namespace bmtest
