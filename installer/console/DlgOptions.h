#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/console/Dialog.h"

class ParamManager;
class Repository;

// The values of the component settings.
class DlgOptions : public Dialog {
public:
    DlgOptions(ParamManager* params, Repository*) : params(params) {}

protected:
    checked_pointer<ParamManager> params;
};
