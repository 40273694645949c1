#pragma once

#include <QAbstractButton>
#include <initializer_list>
#include <vector>

namespace kelvara {

// Buttons that are always enabled or disabled together, in a fixed order.
class ButtonGroup
{
public:
    ButtonGroup(std::initializer_list<QAbstractButton*> members) : members_(members) {}

    void setEnabled(bool enabled) const
    {
        for (QAbstractButton* button : members_)
            button->setEnabled(enabled);
    }

private:
    std::vector<QAbstractButton*> members_;
};

} // namespace kelvara
