#include "HelperKit/HelperError.h"

namespace helperkit {

std::string HelperError::describe() const {
    switch (kind) {
        case Kind::connection:
            return "Couldn't reach the administrator helper (" + text + ").";
        case Kind::helper:
            return text;
        case Kind::incomplete:
            return "The administrator scan arrived incomplete.";
    }
    return text;
}

}  // namespace helperkit
