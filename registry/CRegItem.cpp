// CRegItem: reading one value by name or position, and writing it back.
#include "registry/CRegItem.h"

#include "errors/MErrors.h"
#include "registry/CRegNode.h"
#include "registry/MRegTool.h"

namespace corvane {

using namespace platform;

std::shared_ptr<CRegItem> CRegItem::New() {
  return std::make_shared<CRegItem>(Passkey{});
}

void CRegItem::Create(const std::shared_ptr<CRegNode>& nodeA,
                      const Variant& vIndex) {
  node_ = nodeA;
  LONG status = ERROR_SUCCESS;
  switch (vIndex.Kind()) {
    case VT_I2:
    case VT_I4: {
      const std::int32_t position = vIndex.ToLong();
      status = MRegTool::ReadValueAt(NodeHandle(), position, name_, value_);
      break;
    }
    case VT_BSTR: {
      name_ = vIndex.AsString();
      // A copy: the name is kept as the caller spelled it, not as it comes
      // back from the code page.
      std::wstring valueName = name_;
      status = MRegTool::ReadValue(NodeHandle(), valueName, value_);
      break;
    }
    default:
      MErrors::ApiRaise(ERROR_INVALID_DATA);
  }
  MErrors::ApiRaiseIf(status);
}

std::int32_t CRegItem::Count() const {
  if (!node_) MErrors::ApiRaise(ERROR_INVALID_HANDLE);
  return node_->ItemCount();
}

void CRegItem::SetValue(const Variant& vValueA) {
  MErrors::ApiRaiseIf(MRegTool::WriteValue(vValueA, NodeHandle(), name_));
  MErrors::ApiRaiseIf(RegFlushKey(NodeHandle()));
}

HKEY CRegItem::NodeHandle() const {
  if (!node_) MErrors::ApiRaise(ERROR_INVALID_HANDLE);
  return static_cast<HKEY>(node_->Key().ToLong());
}

}  // namespace corvane
