#pragma once

#include "installer/components/AiComponent.h"

#include <memory>

class ComponentManager;
class ComponentsChangeset;

// One requested change of a component's selection on the components page. The states of a component
// form a cycle that depends on its installation status; a toggle moves to the next state of the cycle.
class ChangeState {
public:
    // Makes the state of one entry of a cycle.
    class BaseInstantiator {
    public:
        virtual ~BaseInstantiator() = default;
        virtual std::unique_ptr<ChangeState> create(int row, char mark,
                                                    const comp_ptr_t& component) const = 0;
    };
    template <typename State> class Instantiator : public BaseInstantiator {
    public:
        std::unique_ptr<ChangeState> create(int row, char mark, const comp_ptr_t& component) const override {
            return std::make_unique<State>(row, mark, component);
        }
    };

    // The cycle of a component: 0 up to date, 1 upgrade, 2 not installed, 3 not available.
    static int rowOf(int installMode);

    // The state of the cycle entry with this mark, or with toggle the state after it. A move that
    // reaches no other state gives the invalid state, which raises when applied.
    static std::unique_ptr<ChangeState> create(int row, char mark, const comp_ptr_t& component, bool toggle);

    ChangeState(int row, char mark, const comp_ptr_t& component)
        : row(row), mark(mark), component(component) {}
    virtual ~ChangeState() = default;

    // True when the change was confirmed and applied to the tree.
    virtual bool apply(ComponentManager* manager) = 0;

    // Resolves the change against the relations between components, asks the user to confirm what
    // else it implies, and applies it.
    bool change(ComponentManager* manager, request_mode_t mode);

    // Row and mark the component had before the toggle.
    int row;
    char mark;
    comp_ptr_t component;
};

// Shows what a resolved changeset implies beyond its explicit changes and answers whether to apply it:
// conflicts and denied implicit removals are refused with a message; other implications are asked.
bool confirmChangeset(ComponentsChangeset& changeset);
