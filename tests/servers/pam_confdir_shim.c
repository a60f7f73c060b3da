/* Preloaded into the test vsftpd so that its PAM configuration can live in the test's
 * temporary folder instead of /etc/pam.d. vsftpd passes its configured service name to
 * pam_start(); given "/some/folder/service", this opens service "service" with
 * configuration folder "/some/folder". A plain service name behaves as usual. */
#include <limits.h>
#include <stddef.h>
#include <string.h>

struct pam_conv;
typedef struct pam_handle pam_handle_t;

extern int pam_start_confdir(const char *service, const char *user, const struct pam_conv *conv,
                             const char *confdir, pam_handle_t **pamh);

int pam_start(const char *service, const char *user, const struct pam_conv *conv,
              pam_handle_t **pamh)
{
    const char *slash = service ? strrchr(service, '/') : NULL;
    char folder[PATH_MAX];
    size_t length;

    if (slash == NULL || slash == service)
        return pam_start_confdir(service, user, conv, NULL, pamh);
    length = (size_t)(slash - service);
    if (length >= sizeof folder)
        return pam_start_confdir(slash + 1, user, conv, NULL, pamh);
    memcpy(folder, service, length);
    folder[length] = '\0';
    return pam_start_confdir(slash + 1, user, conv, folder, pamh);
}
