// (Being built.)
#include "methods.h"

namespace zorlet_py {

extern const PyMethodDef kStatusMethods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
