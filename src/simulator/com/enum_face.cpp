// The enumerator Query hands out (IVssEnumObject): the copies the query found,
// each filled as GetSnapshotProperties fills one, for the caller to free with
// VssFreeSnapshotPropertiesInternal; or the one provider the model plays,
// whose strings the caller frees with CoTaskMemFree.

#include <string>
#include <utility>
#include <vector>

#include "simulator/com/faces.h"

namespace frostcap::simulator::com {
namespace {

class EnumFace final : public IVssEnumObject, public FaceObject {
 public:
  EnumFace(Run& run, bool providers, std::vector<SnapshotProperties> snapshots,
           std::size_t position = 0)
      : FaceObject(run, "IVssEnumObject"),
        providers_(providers),
        snapshots_(std::move(snapshots)),
        position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if ((iid == __uuidof(IUnknown) || iid == __uuidof(IVssEnumObject)) && addReference() != 0) {
      *object = static_cast<IVssEnumObject*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
  ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VSS_OBJECT_PROP* items, ULONG* fetched) override {
    return forward(__func__, [&]() -> HRESULT {
      run().simulation().note("IVssEnumObject::Next",
                              "IVssEnumObject::Next(" + std::to_string(count) + ")");
      if (items == nullptr || (fetched == nullptr && count != 1)) return E_INVALIDARG;
      ULONG given = 0;
      while (given < count && position_ < size()) {
        VSS_OBJECT_PROP& item = items[given];
        if (providers_) {
          item.Type = VSS_OBJECT_PROVIDER;
          describeProvider(item.Obj.Prov);
        } else {
          item.Type = VSS_OBJECT_SNAPSHOT;
          fillSnapshotProperties(run(), item.Obj.Snap, snapshots_[position_]);
        }
        ++given;
        ++position_;
      }
      if (fetched != nullptr) *fetched = given;
      return given == count ? S_OK : S_FALSE;
    });
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    return forward(__func__, [&]() -> HRESULT {
      run().simulation().note("IVssEnumObject::Skip",
                              "IVssEnumObject::Skip(" + std::to_string(count) + ")");
      const std::size_t left = size() - position_;
      position_ += std::min<std::size_t>(left, count);
      return count <= left ? S_OK : S_FALSE;
    });
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    return forward(__func__, [&]() -> HRESULT {
      run().simulation().note("IVssEnumObject::Reset", "IVssEnumObject::Reset()");
      position_ = 0;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Clone(IVssEnumObject** copy) override {
    return forward(__func__, [&]() -> HRESULT {
      run().simulation().note("IVssEnumObject::Clone", "IVssEnumObject::Clone()");
      if (copy == nullptr) return E_INVALIDARG;
      *copy = run().make<EnumFace>(providers_, snapshots_, position_);
      return S_OK;
    });
  }

 private:
  std::size_t size() const { return providers_ ? 1 : snapshots_.size(); }

  void describeProvider(VSS_PROVIDER_PROP& provider) {
    VSS_PROVIDER_PROP filled{};
    filled.m_ProviderId = kSystemProvider;
    filled.m_eProviderType = VSS_PROV_SYSTEM;
    filled.m_pwszProviderName = allocateTaskString(&run(), u"Software shadow copy provider");
    try {
      filled.m_pwszProviderVersion = allocateTaskString(&run(), u"1.0.0.7");
    } catch (...) {
      CoTaskMemFree(filled.m_pwszProviderName);
      throw;
    }
    provider = filled;
  }

  void empty() noexcept override { snapshots_.clear(); }

  bool providers_;
  std::vector<SnapshotProperties> snapshots_;
  std::size_t position_;
};

}  // namespace

IVssEnumObject* makeEnumFace(Run& run, bool providers, std::vector<SnapshotProperties> snapshots) {
  return run.make<EnumFace>(providers, std::move(snapshots));
}

}  // namespace frostcap::simulator::com
