#include "support/host_harness.h"

#include "support/test_support.h"

namespace tarvel::test {

std::string ProductModulePath() {
  return ModuleBesideTests("tarvel");
}
std::string ProbeModulePath() {
  return ModuleBesideTests("tarvel_probe");
}

HostCall::HostCall(uint32_t instance_id, std::string_view command) : params(NewParamsList()) {
  rec.Marker = kCallRecMarker;
  rec.InstanceId = instance_id;
  rec.Params = params.get();
  if (!command.empty()) Param("COMMAND", OleVariant(command));
}

HostCall& HostCall::Param(std::string_view name, const OleVariant& value) {
  params->SetParamValue(name, value, true);
  return *this;
}

HostCall& HostCall::RawParam(std::string_view name, const Variant& value) {
  TvopParamsListItem* item = params->Add(name, OleVariant());
  item->Value = value;
  return *this;
}

std::string HostCall::Result() const {
  return params->GetParamValue("RESULT").ToAnsi();
}

}  // namespace tarvel::test
