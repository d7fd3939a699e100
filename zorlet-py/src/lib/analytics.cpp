// (Being built.)
#include "methods.h"

namespace zorlet_py {

extern const PyMethodDef kAnalyticsMethods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
