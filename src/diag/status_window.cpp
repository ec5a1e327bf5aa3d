#include "diag/status_window.h"

#include "base/texts.h"

namespace zk {

void InitStatusWindow(StatusWindow& w) {
    w.Caption = text::kFormCaption;
    w.LabelName = text::kFormLabelName;
    w.LabelVersion = text::kFormLabelVersion;
    w.EventList.assign(1, std::string(text::kFormEventList));
    w.Labels[LabelCOM] = text::kFormLabelCom;
    w.Labels[LabelIdle] = text::kFormLabelIdle;
    w.Labels[LabelTransmit] = text::kFormLabelTransmit;
    w.Labels[LabelPacket] = text::kFormLabelPacket;
    w.Labels[LabelPRN] = text::kFormLabelPrn;
    w.Labels[LabelMem] = text::kFormLabelMem;
    ++w.Revision;
}

void AddEventLine(StatusWindow* w, std::string_view text) {
    if (!w) return;
    if (w->EventList.size() >= kEventListLines) w->EventList.pop_front();
    w->EventList.emplace_back(text.substr(0, 255));
    ++w->Revision;
}

std::string StatusWindowText(const StatusWindow& w) {
    std::string out = "R " + std::to_string(w.Revision) + "\n";
    auto line = [&out](char tag, std::string_view text) {
        out += tag;
        out += ' ';
        for (const char c : text) {
            if (c == '\\') out += "\\\\";
            else if (c == '\r') out += "\\r";
            else if (c == '\n') out += "\\n";
            else out += c;
        }
        out += '\n';
    };
    line('C', w.Caption);
    line('N', w.LabelName);
    line('V', w.LabelVersion);
    for (const std::string& e : w.EventList) line('E', e);
    for (const std::string& l : w.Labels) line('L', l);
    return out;
}

}  // namespace zk
