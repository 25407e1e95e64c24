// The property tables of the control kinds, shared by the runtime core (which
// validates writes against them) and by tools that dump a window's state.
#include "shell/form_types.h"

namespace nds {

const ControlForm* WindowForm::control(ControlId c) const {
    for (const ControlForm& form : controls) {
        if (form.id == c) return &form;
    }
    return nullptr;
}

const std::vector<Property>& propertiesOf(ControlKind kind) {
    using P = Property;
    static const std::vector<Property> button{P::left, P::top, P::caption, P::disabled};
    static const std::vector<Property> edit{P::left, P::top, P::text};
    static const std::vector<Property> label{P::left, P::top, P::caption};
    static const std::vector<Property> progress{P::left, P::top, P::position};
    static const std::vector<Property> timer{P::timerPeriod};
    static const std::vector<Property> html{P::left, P::top, P::htmlContent};
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::ImageButton:
            return button;
        case ControlKind::EditBox:
            return edit;
        case ControlKind::Label:
        case ControlKind::TransparentLabel:
            return label;
        case ControlKind::ProgressBar:
            return progress;
        case ControlKind::Timer:
            return timer;
        case ControlKind::HtmlView:
            return html;
    }
    static const std::vector<Property> none;
    return none;
}

const std::vector<Property>& windowProperties() {
    static const std::vector<Property> window{Property::left, Property::top, Property::caption};
    return window;
}

std::string_view propertyName(Property p) {
    switch (p) {
        case Property::left:
            return "left";
        case Property::top:
            return "top";
        case Property::caption:
            return "caption";
        case Property::text:
            return "text";
        case Property::disabled:
            return "disabled";
        case Property::timerPeriod:
            return "timerPeriod";
        case Property::position:
            return "position";
        case Property::htmlContent:
            return "htmlContent";
    }
    return "";
}

}  // namespace nds
