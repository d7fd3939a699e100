// (Being built.)
#include "methods.h"

namespace zorlet_py {

extern const PyMethodDef kClaimMethods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
