#include "installer/console/TextDlgOptions.h"

#include "common/runtime/Messages.h"
#include "installer/components/AiComponent.h"
#include "installer/components/Param.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamPassword.h"
#include "installer/components/ParamStatic.h"

#include <iomanip>
#include <iostream>

int TextDlgOptions::run() {
    showPage();
    for (;;) {
        const Choice choice = readChoice(keyHint(), 'F');
        if (choice.letter == 'B')
            return BACK;
        if (choice.letter == 'Q')
            return QUIT;
        if (choice.letter == 'F') {
            if (mode != 0)
                askParams(false);
            return NEXT;
        }
        if ((choice.letter == 'R' && mode == 0) || (choice.letter == 'U' && mode == 2)) {
            askParams(choice.letter == 'U');
            return NEXT;
        }
        std::cout << textOf("wizard_prompt_action_retry");
    }
}

void TextDlgOptions::showPage() {
    showTitle(textOf("options_page_hdr"));
    const int withParams = params->countComponentsWithParams();
    const int valid = params->countComponentsWithValidParams();
    std::cout << withParams << textOf("options_page_body1");
    if (valid == 0) {
        std::cout << textOf("options_page_body3");
        mode = 1;
    } else if (withParams == valid) {
        std::cout << textOf("options_page_body4");
        mode = 0;
    } else {
        std::cout << Messages().format("options_page_body2", withParams - valid);
        mode = 2;
    }
    std::cout << "\n";
    if (mode == 0)
        showLegend({"wizard_legend_f_forward_skip_params", "wizard_legend_r_redefine_params_all",
                    "wizard_legend_b_back", "wizard_legend_q_quit"},
                   "wizard_prompt_action");
    else if (mode == 1)
        showLegend({"wizard_legend_f_forward_specify_params", "wizard_legend_b_back", "wizard_legend_q_quit"},
                   "wizard_prompt_action");
    else
        showLegend({"wizard_legend_f_forward_specify_params", "wizard_legend_u_specify_undefined_params",
                    "wizard_legend_b_back", "wizard_legend_q_quit"},
                   "wizard_prompt_action");
}

const char* TextDlgOptions::keyHint() const {
    switch (mode) {
    case 0:
        return "F/r/b/q";
    case 1:
        return "F/b/q";
    case 2:
        return "F/u/b/q";
    default:
        return "b/q";
    }
}

void TextDlgOptions::askParams(bool onlyUndefined) {
    Asker asker(onlyUndefined);
    do {
        const param_ptr_t start = asker.restartPoint;
        asker.currentComponent.reset();
        asker.restartRequested = false;
        asker.componentCounter = 0;
        params->accept(asker, start, true);
    } while (asker.restartRequested);
}

void TextDlgOptions::Asker::visit(const param_ptr_t& param) {
    if (restartRequested || (onlyUndefined && param->isValid()))
        return;
    const std::shared_ptr<AiComponent>& component = param->getComponents().front();
    if (component != currentComponent) {
        if (currentComponent)
            componentDone();
        if (restartRequested)
            return;
        ++componentCounter;
        currentComponent = component;
        restartPoint = param;
        std::cout << "\n\n" << componentCounter << ") Component: " << component->getDescription() << "\n\n";
    }
    askValue(param);
}

void TextDlgOptions::Asker::end() {
    if (!restartRequested)
        componentDone();
}

void TextDlgOptions::Asker::componentDone() {
    if (!currentComponent)
        return;
    std::cout << Messages().format("options_page_body5", currentComponent->getDescription()) << "\n"
              << textOf("wizard_legend_header") << "\n"
              << textOf("wizard_legend_f_forward") << "\n"
              << textOf("wizard_legend_r_redefine_params_one") << "\n\n";
    const char* prompt = "wizard_prompt_action";
    for (;;) {
        std::cout << textOf(prompt);
        const Choice choice = readChoice("F/r", 'F');
        if (choice.letter == 'F')
            return;
        if (choice.letter == 'R') {
            restartRequested = true;
            return;
        }
        prompt = "wizard_prompt_action_retry";
    }
}

void TextDlgOptions::Asker::askValue(const param_ptr_t& param) {
    const std::string current = param->getValue();
    Param* const setting = param.get();
    if (dynamic_cast<ParamEnum*>(setting)) {
        std::cout << param->displayDescription << "\n";
        askEnum(param, current);
    } else if (dynamic_cast<ParamBool*>(setting)) {
        std::cout << param->displayDescription << "\n";
        askText(param, current == "true" ? "yes" : current == "false" ? "no" : current);
    } else if (dynamic_cast<SubParams*>(setting)) {
        std::cout << "\n --- " << param->displayDescription << " ---\n";
    } else if (dynamic_cast<ParamPassword*>(setting)) {
        std::cout << param->displayDescription << "\n";
        while (!param->setValue(readNewPassword(param->displayName, current)))
            std::cout << param->getErrorMessage() << "\n";
    } else if (dynamic_cast<ParamStatic*>(setting)) {
        const std::string value = param->getDefault();
        std::cout << param->displayDescription << "\n" << param->displayName << ": " << value << "\n";
        param->setValue(value);
    } else if (dynamic_cast<ParamHidden*>(setting)) {
        param->setValue(param->getDefault());
        return;
    } else {
        std::cout << param->displayDescription << "\n";
        askText(param, current);
    }
    std::cout << "\n";
}

void TextDlgOptions::Asker::askEnum(const param_ptr_t& param, const std::string& current) {
    const ParamEnum::choices_t& choices = static_cast<ParamEnum*>(param.get())->choiceList;
    const int count = static_cast<int>(choices.size());
    int marked = -1;
    for (int i = 0; i < count; ++i) {
        const bool isCurrent = choices[i].first == current;
        if (isCurrent)
            marked = i;
        std::cout << std::setw(2) << i + 1 << ". (" << (isCurrent ? '*' : ' ') << ") " << choices[i].second
                  << "\n";
    }
    const std::string hint = count == 1 ? "1" : "1-" + std::to_string(count);
    const char* prompt = "wizard_prompt_number";
    for (;;) {
        std::cout << textOf(prompt);
        const Choice choice = readChoice(hint, 'F');
        int picked = -1;
        if (choice.isNumber && choice.number >= 1 && choice.number <= count)
            picked = choice.number - 1;
        else if (!choice.isNumber && choice.letter == 'F' && count > 0)
            picked = marked < 0 ? 0 : marked;
        if (picked >= 0) {
            param->setValue(choices[picked].first);
            return;
        }
        prompt = "wizard_prompt_number_retry";
    }
}

void TextDlgOptions::Asker::askText(const param_ptr_t& param, const std::string& current) {
    while (!param->setValue(readString(param->displayName, current)))
        std::cout << param->getErrorMessage() << "\n";
}
