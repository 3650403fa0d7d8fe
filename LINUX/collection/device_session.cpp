#include "LINUX/collection/collection.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "tarnlibrary/ssh_library/ssh_library.hpp"

namespace cgnat {

DeviceOutputs device_session() {
  const RunSettings &current = settings();
  tarn::Ssh_connection_3 recv(current.host, current.port, current.user,
                              current.pwd, /*end_data=*/"$", current.ssh);
  recv.connect();
  recv.execute_command("set cli screen-length 0");
  DeviceOutputs outputs;
  outputs.cgnat_summary = recv.execute_command("show cgnat summary");
  outputs.cgnat_errors = recv.execute_command("show cgnat errors");
  recv.close();
  return outputs;
}

} // namespace cgnat
