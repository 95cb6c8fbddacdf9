#pragma once

#include <QDomNode>
#include <QString>

// One node of a parsed XML document, or none.
class CXmlNodeWrapper {
public:
    CXmlNodeWrapper() = default;
    explicit CXmlNodeWrapper(QDomNode node) : m_node(std::move(node)) {}
    virtual ~CXmlNodeWrapper() = default;

    // The first child element named name; none when there is no such child or no node.
    CXmlNodeWrapper FindChild(const QString& name) const;
    // The node's text content; empty for no node.
    QString GetText() const;

private:
    QDomNode m_node;
};
