#pragma once

#include "installer/components/ParamManager.h"
#include "installer/console/DlgOptions.h"
#include "installer/console/TextDialog.h"

#include <memory>

class AiComponent;

// The values of the component settings on the console: a summary page, then, when asked for, the
// settings of each component one after the other, each component confirmed or entered again.
class TextDlgOptions : public DlgOptions, private TextDialog {
public:
    using DlgOptions::DlgOptions;

    int run() override;

private:
    // Asks the value of every setting it visits and confirms each component after its last one.
    class Asker : public ParamManager::Visitor, private TextDialog {
    public:
        // With onlyUndefined, settings that hold a valid value are passed over.
        explicit Asker(bool onlyUndefined) : onlyUndefined(onlyUndefined) {}

        void visit(const param_ptr_t& param) override;
        void end() override;

        std::shared_ptr<AiComponent> currentComponent;
        int componentCounter = 0;
        param_ptr_t restartPoint;
        bool restartRequested = false;

    private:
        void componentDone();
        void askValue(const param_ptr_t& param);
        static void askEnum(const param_ptr_t& param, const std::string& current);
        // Asks a text until the setting accepts it.
        static void askText(const param_ptr_t& param, const std::string& current);

        bool onlyUndefined;
    };

    void showPage();
    const char* keyHint() const;
    void askParams(bool onlyUndefined);

    // 0 every component's settings are valid, 1 none is, 2 some are not.
    int mode = 0;
};
