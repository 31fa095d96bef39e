#include "platform/foundation/Error.h"

namespace ns {

Error Error::withDescription(std::string domain, int64_t code, std::string description) {
    Dictionary info;
    info.emplace(NSLocalizedDescriptionKey, Value(std::move(description)));
    return Error(std::move(domain), code, std::move(info));
}

std::string Error::localizedDescription() const {
    auto it = userInfo.find(NSLocalizedDescriptionKey);
    if (it != userInfo.end() && it->second.isString()) return *it->second.string();
    return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::string Error::description() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription() + "\"";
}

std::shared_ptr<const Error> Error::underlyingError() const {
    auto it = userInfo.find(NSUnderlyingErrorKey);
    if (it == userInfo.end()) return nullptr;
    auto obj = it->second.objectAs<ErrorObject>();
    if (!obj) return nullptr;
    return std::shared_ptr<const Error>(obj, &obj->error);
}

void Error::setUnderlyingError(const Error& underlying) {
    userInfo.insert_or_assign(NSUnderlyingErrorKey, Value(std::make_shared<ErrorObject>(underlying)));
}

bool ErrorObject::isEqual(const Object& other) const {
    auto o = dynamic_cast<const ErrorObject*>(&other);
    return o && o->error == error;
}

}  // namespace ns
