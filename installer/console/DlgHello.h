#pragma once

#include "installer/console/Dialog.h"

// The welcome page.
class DlgHello : public Dialog {};
