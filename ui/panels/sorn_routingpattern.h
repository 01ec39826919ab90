// The picture of one of the Sorn's eight fixed routing patterns, shown as a
// small modal window at its picture's size.
#pragma once

#include "ui/widgets/zscaled.h"

namespace Sorn {

class RoutingPatternPopup : public ZScaledDialog {
    Q_OBJECT
public:
    // An index outside 0-7 gives an empty window.
    RoutingPatternPopup(int pattern, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    // Scales the 100 % layout once to `code`.
    bool applyScale(ZoomCode code) override;
    bool hasPicture() const { return m_hasPicture; }

private:
    bool m_hasPicture = false;
};

} // namespace Sorn
