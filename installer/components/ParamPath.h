#pragma once

#include "installer/components/Param.h"

// An absolute directory path of plain characters; with mustExist it has to exist already.
class ParamPath : public Param {
public:
    ParamPath(const std::shared_ptr<AiComponent>& component, const std::string& id, bool mustExist);

    const char* getType() const override;
    bool validate(const std::string& text) override;
    // Stored without trailing "/".
    void assign(const std::string& text) override;

    bool mustExist;
};
