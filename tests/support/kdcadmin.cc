// Adds principals to a test realm's database and writes their keys to a keytab, through the
// KDC's own administration library on the local database (no admin server needed).
//
//   vexalo_kdcadmin addprinc PRINCIPAL PASSWORD
//   vexalo_kdcadmin ktadd KEYTAB PRINCIPAL
//
// KRB5_CONFIG and KRB5_KDC_PROFILE name the realm's files.
#include <kadm5/admin.h>
#include <krb5.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Fail(krb5_context context, const char* what, krb5_error_code code) {
  const char* message = krb5_get_error_message(context, code);
  std::fprintf(stderr, "vexalo_kdcadmin: %s: %s\n", what, message);
  krb5_free_error_message(context, message);
  return 1;
}

int AddPrincipal(krb5_context context, void* handle, const char* name, const char* password) {
  kadm5_principal_ent_rec entry;
  std::memset(&entry, 0, sizeof(entry));
  krb5_error_code code = krb5_parse_name(context, name, &entry.principal);
  if (code) return Fail(context, "parse name", code);
  std::string pass = password;
  code = kadm5_create_principal(handle, &entry, KADM5_PRINCIPAL, pass.data());
  krb5_free_principal(context, entry.principal);
  return code ? Fail(context, "create principal", code) : 0;
}

int WriteKeytab(krb5_context context, void* handle, const char* keytab_name, const char* name) {
  krb5_principal principal;
  krb5_error_code code = krb5_parse_name(context, name, &principal);
  if (code) return Fail(context, "parse name", code);
  kadm5_key_data* keys = nullptr;
  int count = 0;
  code = kadm5_get_principal_keys(handle, principal, 0, &keys, &count);
  if (code) {
    krb5_free_principal(context, principal);
    return Fail(context, "get keys", code);
  }
  krb5_keytab keytab;
  code = krb5_kt_resolve(context, keytab_name, &keytab);
  for (int i = 0; code == 0 && i < count; ++i) {
    krb5_keytab_entry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.principal = principal;
    entry.vno = keys[i].kvno;
    entry.key = keys[i].key;
    code = krb5_kt_add_entry(context, keytab, &entry);
  }
  if (keytab) krb5_kt_close(context, keytab);
  kadm5_free_kadm5_key_data(context, count, keys);
  krb5_free_principal(context, principal);
  return code ? Fail(context, "write keytab", code) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "addprinc") != 0 && std::strcmp(argv[1], "ktadd") != 0)) {
    std::fprintf(stderr, "usage: %s addprinc PRINCIPAL PASSWORD | ktadd KEYTAB PRINCIPAL\n",
                 argv[0]);
    return 2;
  }
  krb5_context context;
  if (kadm5_init_krb5_context(&context) != 0) return 1;
  kadm5_config_params params;
  std::memset(&params, 0, sizeof(params));
  void* handle = nullptr;
  std::string client = "root/admin";
  std::string service = KADM5_ADMIN_SERVICE;
  kadm5_ret_t code = kadm5_init_with_password(context, client.data(), nullptr, service.data(),
                                              &params, KADM5_STRUCT_VERSION, KADM5_API_VERSION_4,
                                              nullptr, &handle);
  if (code) return Fail(context, "open database", code);
  int result = std::strcmp(argv[1], "addprinc") == 0
                   ? AddPrincipal(context, handle, argv[2], argv[3])
                   : WriteKeytab(context, handle, argv[2], argv[3]);
  kadm5_destroy(handle);
  krb5_free_context(context);
  return result;
}
