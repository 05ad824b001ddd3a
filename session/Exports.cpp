#include "session/Orlin.h"

extern "C" {

ORLIN_EXPORT IOrlin* NewInterface()
{
    return new Orlin();
}

ORLIN_EXPORT void ReleaseInterface(IOrlin* p)
{
    delete p;
}

}
