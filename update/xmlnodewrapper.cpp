#include "update/xmlnodewrapper.h"

#include <QDomElement>

CXmlNodeWrapper CXmlNodeWrapper::FindChild(const QString& name) const
{
    if (m_node.isNull())
        return {};
    return CXmlNodeWrapper(m_node.firstChildElement(name));
}

QString CXmlNodeWrapper::GetText() const
{
    return m_node.isNull() ? QString() : m_node.toElement().text();
}
