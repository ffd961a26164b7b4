#include "installer/console/DlgMaker.h"

#include "installer/console/TextDlgMaker.h"

std::unique_ptr<DlgMaker> DlgMaker::create() {
    return std::make_unique<TextDlgMaker>();
}
