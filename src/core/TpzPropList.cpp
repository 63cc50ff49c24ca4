#include "core/TpzPropList.h"

#include "core/TpzProject.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <QVariant>
#include <optional>

namespace {

const char* const TagProperty = "tag";

// Property lookup ignores letter case, so a hint of "Text" finds Qt's "text".
std::optional<QMetaProperty> FindProperty(const QObject* control, const QString& name)
{
    if (name.isEmpty()) {
        return std::nullopt;
    }
    const QMetaObject* meta = control->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty prop = meta->property(i);
        if (QString::fromLatin1(prop.name()).compare(name, Qt::CaseInsensitive) == 0) {
            return prop;
        }
    }
    return std::nullopt;
}

bool IsIntegerType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

std::optional<int> EnumValueOf(const QMetaEnum& enumerator, const QString& name)
{
    for (int i = 0; i < enumerator.keyCount(); ++i) {
        if (QString::fromLatin1(enumerator.key(i)).compare(name, Qt::CaseInsensitive) == 0) {
            return enumerator.value(i);
        }
    }
    return std::nullopt;
}

} // namespace

TpzPropList::TpzPropList(QObject* control) : QObject(control), FControl(control) {}

TpzPropList* TpzPropList::Of(QObject* control)
{
    auto* binding = control->findChild<TpzPropList*>(QString(), Qt::FindDirectChildrenOnly);
    if (binding == nullptr) {
        binding = new TpzPropList(control);
    }
    control->setProperty(TagProperty, 1);
    return binding;
}

void TpzPropList::Unbind(QObject* control)
{
    delete control->findChild<TpzPropList*>(QString(), Qt::FindDirectChildrenOnly);
    control->setProperty(TagProperty, -1);
}

QString TpzPropList::HintOf(const QObject* control)
{
    const QVariant hint = control->property("hint");
    if (hint.isValid()) {
        return hint.toString();
    }
    return control->property("toolTip").toString();
}

QString TpzPropList::ReadProp(const QString& name) const
{
    const std::optional<QMetaProperty> prop = FindProperty(FControl, name);
    if (!prop || !prop->isReadable()) {
        return {};
    }
    const QVariant value = prop->read(FControl);
    if (!value.isValid()) {
        return {};
    }
    if (prop->isEnumType()) {
        const QMetaEnum enumerator = prop->enumerator();
        const int number = value.toInt();
        if (enumerator.isFlag()) {
            return QString::fromLatin1(enumerator.valueToKeys(number));
        }
        const char* key = enumerator.valueToKey(number);
        return key != nullptr ? QString::fromLatin1(key) : QString::number(number);
    }
    const int typeId = value.metaType().id();
    if (typeId == QMetaType::Bool) {
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    }
    if (IsIntegerType(typeId)) {
        return QString::number(value.toLongLong());
    }
    return value.canConvert<QString>() ? value.toString() : QString();
}

void TpzPropList::WriteProp(const QString& name, const QString& value)
{
    const std::optional<QMetaProperty> prop = FindProperty(FControl, name);
    if (!prop || !prop->isWritable()) {
        return;
    }
    if (prop->isEnumType()) {
        if (const std::optional<int> number = EnumValueOf(prop->enumerator(), value)) {
            prop->write(FControl, *number);
        }
        return;
    }
    const int typeId = prop->metaType().id();
    if (typeId == QMetaType::Bool) {
        // Only the value names count; a number such as 1 is no name and changes nothing.
        if (value.isEmpty() || value.compare(u"False", Qt::CaseInsensitive) == 0) {
            prop->write(FControl, false);
        } else if (value.compare(u"True", Qt::CaseInsensitive) == 0) {
            prop->write(FControl, true);
        }
        return;
    }
    if (IsIntegerType(typeId)) {
        if (const std::optional<int> number = TpzProject::TryParseInteger(value)) {
            QVariant converted(*number);
            if (converted.convert(prop->metaType())) {
                prop->write(FControl, converted);
            }
        }
        return;
    }
    QVariant converted(value);
    if (converted.convert(prop->metaType())) {
        prop->write(FControl, converted);
    }
}
