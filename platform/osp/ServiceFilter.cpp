// SPDX-License-Identifier: Apache-2.0
#include "platform/osp/ServiceFilter.h"

#include <cctype>
#include <vector>

#include <Poco/Exception.h>

namespace hil::osp {

struct ServiceFilter::Node {
    enum class Kind { Equal, NotEqual, And, Or } kind;
    std::string name;
    std::string value;
    std::vector<std::unique_ptr<Node>> children;

    bool matches(const Properties& properties) const
    {
        switch (kind) {
        case Kind::Equal: return properties.has(name) && properties.get(name) == value;
        case Kind::NotEqual: return !properties.has(name) || properties.get(name) != value;
        case Kind::And:
            for (const auto& child : children)
                if (!child->matches(properties))
                    return false;
            return true;
        case Kind::Or:
            for (const auto& child : children)
                if (child->matches(properties))
                    return true;
            return false;
        }
        return false;
    }
};

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    std::unique_ptr<ServiceFilter::Node> parse()
    {
        auto root = parseJoined(ServiceFilter::Node::Kind::Or);
        skipSpaces();
        if (at_ != text_.size())
            fail("unexpected text");
        return root;
    }

private:
    using Node = ServiceFilter::Node;

    // `||` joins `&&` groups, which join terms: one function serves both levels.
    std::unique_ptr<Node> parseJoined(Node::Kind kind)
    {
        const std::string op = kind == Node::Kind::Or ? "||" : "&&";
        auto first = kind == Node::Kind::Or ? parseJoined(Node::Kind::And) : parseTerm();
        if (!peek(op))
            return first;
        auto joined = std::make_unique<Node>(Node{kind, {}, {}, {}});
        joined->children.push_back(std::move(first));
        while (consume(op))
            joined->children.push_back(kind == Node::Kind::Or ? parseJoined(Node::Kind::And) : parseTerm());
        return joined;
    }

    std::unique_ptr<Node> parseTerm()
    {
        if (consume("(")) {
            auto inner = parseJoined(Node::Kind::Or);
            if (!consume(")"))
                fail("missing ')'");
            return inner;
        }
        auto node = std::make_unique<Node>(Node{Node::Kind::Equal, parseName(), {}, {}});
        if (consume("!="))
            node->kind = Node::Kind::NotEqual;
        else if (!consume("=="))
            fail("expected '==' or '!='");
        node->value = parseQuoted();
        return node;
    }

    std::string parseName()
    {
        skipSpaces();
        const std::size_t start = at_;
        while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.' ||
                                      text_[at_] == '_' || text_[at_] == '-'))
            ++at_;
        if (at_ == start)
            fail("expected a property name");
        return text_.substr(start, at_ - start);
    }

    std::string parseQuoted()
    {
        if (!consume("\""))
            fail("expected a quoted value");
        std::string value;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (text_[at_] == '\\' && at_ + 1 < text_.size())
                ++at_;
            value.push_back(text_[at_++]);
        }
        if (at_ == text_.size())
            fail("unterminated quoted value");
        ++at_;
        return value;
    }

    void skipSpaces()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }

    bool peek(const std::string& token)
    {
        skipSpaces();
        return text_.compare(at_, token.size(), token) == 0;
    }

    bool consume(const std::string& token)
    {
        if (!peek(token))
            return false;
        at_ += token.size();
        return true;
    }

    [[noreturn]] void fail(const std::string& what)
    {
        throw Poco::SyntaxException("service filter: " + what + " at position " + std::to_string(at_), text_);
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

} // namespace

ServiceFilter::ServiceFilter(const std::string& text) : root_(Parser(text).parse()) {}
ServiceFilter::~ServiceFilter() = default;
ServiceFilter::ServiceFilter(ServiceFilter&&) noexcept = default;

bool ServiceFilter::matches(const Properties& properties) const { return root_->matches(properties); }

} // namespace hil::osp
