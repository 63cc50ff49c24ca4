#pragma once

#include <QObject>
#include <QString>

// The binding of one control to its properties, read and written by name as text. A control
// gets its binding on first use (TpzPropList::Of) and keeps it as a child object; its dynamic
// property "tag" tells whether it is bound: 0 or less means not yet (the window's bound controls
// carry -1 from the start), 1 means bound.
//
// Values as text: a Boolean property reads as "True" or "False", an integer as its decimal
// number, an enumeration as its value name, anything else as its text. Writing a Boolean or
// enumeration takes a value name only (letter case ignored; empty counts as "False"): "1" or
// "yes" leave the control as it was. Any error reading gives the empty text; any error writing
// is ignored.
class TpzPropList : public QObject {
    Q_OBJECT
public:
    explicit TpzPropList(QObject* control);

    // The control's binding, created on first use.
    static TpzPropList* Of(QObject* control);
    // Removes the binding (if any) and gives the tag -1 again.
    static void Unbind(QObject* control);

    // The name of the property that carries a control's value: its hint (the dynamic property
    // "hint", else its toolTip).
    static QString HintOf(const QObject* control);

    QString ReadProp(const QString& name) const;
    void WriteProp(const QString& name, const QString& value);

private:
    QObject* FControl;
};
